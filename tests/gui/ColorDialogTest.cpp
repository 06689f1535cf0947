// The colour dialog: plain-RGB start, custom colours, and the real Qt widget.

#include "gui/ColorDialog.h"
#include "gui/DialogSeam.h"
#include "tests/common/QtTestSupport.h"

#include <QColorDialog>
#include <QGuiApplication>
#include <QPalette>

namespace {

using varnex_test::OnModalWidget;

TEST(ColorDialogTest, ColorToRgbDropsTheTopByteAndResolvesSystemColors) {
  EXPECT_EQ(ColorToRGB(0x00336699), 0x336699u);
  EXPECT_EQ(ColorToRGB(0x02336699), 0x336699u);
  const QColor button = QGuiApplication::palette().color(QPalette::Active, QPalette::Button);
  const TColor expected = static_cast<TColor>(button.red()) | static_cast<TColor>(button.green()) << 8 |
                          static_cast<TColor>(button.blue()) << 16;
  EXPECT_EQ(ColorToRGB(0xFF00000F), expected) << "index 15 is the button face";
}

TEST(ColorDialogTest, ScriptedRunTakesColorAndCustomColorsOnOkOnly) {
  TColorDialog dialog;
  EXPECT_EQ(dialog.CustomColors(), std::vector<TColor>(CustomColorCount, UnsetCustomColor));
  std::vector<TColor> custom(CustomColorCount, 0x000001);
  TDialogScript script;
  script.Then(TDialogAnswer::Cancel(dkColor)).Then(TDialogAnswer::PickColor(0xFF123456, custom));
  dialog.SetColor(0x808080);
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(dialog.Color(), 0x808080u);
  EXPECT_TRUE(dialog.Execute());
  EXPECT_EQ(dialog.Color(), 0x123456u) << "the result is plain RGB";
  EXPECT_EQ(dialog.CustomColors(), custom);
}

TEST(ColorDialogTest, RealDialogStartsFromTheColorAndReadsBackCustomColors) {
  TColorDialog dialog;
  dialog.SetColor(0x336699);
  QColor shownAtStart;
  QColor customAtStart;
  OnModalWidget([&](QWidget* Widget) {
    auto* cd = qobject_cast<QColorDialog*>(Widget);
    ASSERT_NE(cd, nullptr);
    EXPECT_TRUE(cd->testOption(QColorDialog::DontUseNativeDialog));
    shownAtStart = cd->currentColor();
    customAtStart = QColorDialog::customColor(4);
    // What "Add to Custom Colors" does while the dialog is open.
    QColorDialog::setCustomColor(4, QColor(0x10, 0x20, 0x30));
    cd->setCurrentColor(QColor(0x11, 0x22, 0x33));
    cd->accept();
  });
  ASSERT_TRUE(dialog.Execute());
  EXPECT_EQ(shownAtStart, QColor(0x99, 0x66, 0x33)) << "red is the low byte";
  EXPECT_EQ(customAtStart, QColor(0xFF, 0xFF, 0xFF));
  EXPECT_EQ(dialog.Color(), 0x332211u);
  EXPECT_EQ(dialog.CustomColors()[4], 0x302010u);

  // A second dialog object starts with its own, unset slots.
  TColorDialog other;
  QColor otherCustom;
  OnModalWidget([&](QWidget* Widget) {
    otherCustom = QColorDialog::customColor(4);
    qobject_cast<QColorDialog*>(Widget)->reject();
  });
  EXPECT_FALSE(other.Execute());
  EXPECT_EQ(otherCustom, QColor(0xFF, 0xFF, 0xFF));
  EXPECT_EQ(dialog.CustomColors()[4], 0x302010u);
}

}  // namespace
