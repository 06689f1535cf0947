#include "gui/MessageBoxes.h"

#include "gui/Application.h"
#include "gui/DialogSeam.h"
#include "gui/WindowSystem.h"

#include <QMessageBox>
#include <QString>

namespace {

QMessageBox::Icon IconOf(TDialogKind Kind) {
  switch (Kind) {
    case dkQuestion: return QMessageBox::Warning;
    case dkError: return QMessageBox::Critical;
    default: return QMessageBox::Information;
  }
}

// The real box: application-modal, owned by the window it opens from (or by none
// when no window is up yet), raised so that it comes to the front.
TDialogAnswer RunMessageBox(const TDialogRequest& Request) {
  // The program's texts end lines with CR LF; a Qt label wants LF alone.
  QString text = QString::fromStdString(Request.Text);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(IconOf(Request.Kind), QString::fromStdString(Request.Caption), text, QMessageBox::NoButton,
                  DialogOwner());
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  if (Request.Kind == dkQuestion) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
  }
  box.show();
  box.raise();
  box.activateWindow();
  const int result = box.exec();
  TDialogAnswer answer;
  answer.Kind = Request.Kind;
  answer.Accept = Request.Kind == dkQuestion ? result == QMessageBox::Yes : true;
  return answer;
}

}  // namespace

bool ShowMessageBox(TDialogKind Kind, const std::string& Caption, const std::string& Text) {
  TDialogRequest request;
  request.Kind = Kind;
  request.Caption = Caption;
  request.Text = Text;
  return RunDialog(request, &RunMessageBox).Accept;
}

bool QuestionBox(const std::string& Text) { return ShowMessageBox(dkQuestion, BoxCaption(), Text); }

void ErrorBox(const std::string& Text) { ShowMessageBox(dkError, BoxCaption(), Text); }

void InformationBox(const std::string& Text) { ShowMessageBox(dkInformation, BoxCaption(), Text); }

std::string BoxCaption() { return Application != nullptr ? Application->Title() : std::string(); }

std::string ErrorDisplayText(const std::string& Message) {
  // The comparison is on the byte value, so any UTF-8 lead or continuation byte
  // counts as sorting after '.' as well.
  if (!Message.empty() && static_cast<unsigned char>(Message.back()) > static_cast<unsigned char>('.'))
    return Message + ".";
  return Message;
}
