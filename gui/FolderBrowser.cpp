#include "gui/FolderBrowser.h"

#include "base/SysUtils.h"
#include "gui/Application.h"
#include "gui/DialogSeam.h"
#include "gui/WindowSystem.h"

#include <QDir>
#include <QFileDialog>

namespace {

TDialogAnswer RunQtFolderBrowser(const TDialogRequest& Request) {
  DisableQtSettingsFiles();
  QFileDialog dialog(DialogOwner(), QString::fromStdString(Request.Text));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setWindowModality(Qt::ApplicationModal);
  if (Request.Folder.empty()) {
    dialog.setDirectory(QDir::homePath());
  } else {
    // Open the parent and select the folder in it, so that it shows as chosen.
    const QDir folder(QString::fromStdString(Request.Folder));
    dialog.setDirectory(QString::fromStdString(ExtractFileDir(ExcludeTrailingPathDelimiter(Request.Folder))));
    dialog.selectFile(folder.absolutePath());
  }
  FitToScreen(&dialog);
  TDialogAnswer answer = TDialogAnswer::Cancel(dkFolder);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return answer;
  answer.Accept = true;
  answer.Folder = dialog.selectedFiles().front().toStdString();
  return answer;
}

}  // namespace

bool BrowseForFolder(const std::string& Caption, const std::string& InitialDir, std::string& Folder) {
  TDialogRequest request;
  request.Kind = dkFolder;
  request.Text = Caption;
  request.Folder = DirectoryExists(InitialDir) ? InitialDir : std::string();
  const TDialogAnswer answer = RunDialog(request, &RunQtFolderBrowser);
  if (!answer.Accept || answer.Folder.empty()) return false;
  Folder = answer.Folder;
  return true;
}
