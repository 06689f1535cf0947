#include "gui/ColorDialog.h"

#include "gui/Application.h"
#include "gui/DialogSeam.h"
#include "gui/WindowSystem.h"

#include <QColor>
#include <QColorDialog>
#include <QGuiApplication>
#include <QPalette>

namespace {

QColor ToQColor(TColor Color) {
  return QColor(static_cast<int>(Color & 0xFF), static_cast<int>((Color >> 8) & 0xFF),
                static_cast<int>((Color >> 16) & 0xFF));
}

TColor FromQColor(const QColor& Color) {
  return static_cast<TColor>(Color.red()) | static_cast<TColor>(Color.green()) << 8 |
         static_cast<TColor>(Color.blue()) << 16;
}

// The palette role that plays the part of a system colour index.
QPalette::ColorRole RoleOfSystemColor(unsigned Index) {
  switch (Index) {
    case 5: return QPalette::Base;
    case 7:
    case 8: return QPalette::WindowText;
    case 13: return QPalette::Highlight;
    case 14: return QPalette::HighlightedText;
    case 15: return QPalette::Button;
    case 16: return QPalette::Dark;
    case 18: return QPalette::ButtonText;
    case 20: return QPalette::Light;
    case 21: return QPalette::Shadow;
    case 22: return QPalette::Midlight;
    case 23: return QPalette::ToolTipText;
    case 24: return QPalette::ToolTipBase;
    default: return QPalette::Window;
  }
}

TDialogAnswer RunQtColorDialog(const TDialogRequest& Request) {
  DisableQtSettingsFiles();
  // Qt keeps the custom colours in process-wide slots; each dialog object loads its
  // own before running and reads them back on OK.
  for (int i = 0; i < CustomColorCount; ++i) QColorDialog::setCustomColor(i, ToQColor(Request.CustomColors[i]));
  QColorDialog dialog(ToQColor(Request.Color), DialogOwner());
  dialog.setOption(QColorDialog::DontUseNativeDialog);
  dialog.setWindowModality(Qt::ApplicationModal);
  FitToScreen(&dialog);
  TDialogAnswer answer = TDialogAnswer::Cancel(dkColor);
  if (dialog.exec() != QDialog::Accepted) return answer;
  answer.Accept = true;
  answer.Color = FromQColor(dialog.selectedColor());
  for (int i = 0; i < CustomColorCount; ++i) answer.CustomColors.push_back(FromQColor(QColorDialog::customColor(i)));
  return answer;
}

}  // namespace

TColor ColorToRGB(TColor Color) {
  if ((Color & 0x80000000u) == 0) return Color & 0xFFFFFFu;
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return Color & 0xFFFFFFu;
  return FromQColor(QGuiApplication::palette().color(QPalette::Active, RoleOfSystemColor(Color & 0xFFu)));
}

TColorDialog::TColorDialog() : FCustomColors(CustomColorCount, UnsetCustomColor) {}

TColor TColorDialog::Color() const { return FColor; }

void TColorDialog::SetColor(TColor Value) { FColor = Value; }

const std::vector<TColor>& TColorDialog::CustomColors() const { return FCustomColors; }

bool TColorDialog::Execute() {
  TDialogRequest request;
  request.Kind = dkColor;
  request.Color = ColorToRGB(FColor);
  request.CustomColors = FCustomColors;
  const TDialogAnswer answer = RunDialog(request, &RunQtColorDialog);
  if (!answer.Accept) return false;
  FColor = answer.Color & 0xFFFFFFu;
  if (answer.CustomColors.size() == FCustomColors.size())
    for (std::size_t i = 0; i < FCustomColors.size(); ++i) FCustomColors[i] = answer.CustomColors[i] & 0xFFFFFFu;
  return true;
}
