#include "app/MainFormUnit.h"

#include "app/GlyphsMan.h"
#include "app/InputMan.h"
#include "app/SettingsMan.h"
#include "app/UserFiles.h"
#include "gui/Application.h"
#include "gui/HandlerGuard.h"
#include "gui/MessageBoxes.h"
#include "gui/Scaling.h"
#include "gui/WindowSystem.h"

#include <QAction>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QProxyStyle>
#include <QShortcut>
#include <QIcon>

#include <cstdio>

TMainForm* MainForm = nullptr;

namespace {

// The dynamic property of a swatch that holds its colour exactly as set: the
// palette cannot keep a colour's top byte.
constexpr const char* ColorProperty = "varnexColor";

QColor ToQColor(TColor Value) {
  return QColor(static_cast<int>(Value & 0xFF), static_cast<int>((Value >> 8) & 0xFF),
                static_cast<int>((Value >> 16) & 0xFF));
}

// The application's style, except that a lone Alt reaches the menu bar.
class TMenuKeysStyle : public QProxyStyle {
public:
  int styleHint(StyleHint Hint, const QStyleOption* Option, const QWidget* Widget,
                QStyleHintReturn* Return) const override {
    if (Hint == QStyle::SH_MenuBar_AltKeyNavigation) return 1;
    return QProxyStyle::styleHint(Hint, Option, Widget, Return);
  }
};

}  // namespace

TMainFormSetup TMainFormSetup::Program(const TStringList& Parameters) {
  TMainFormSetup setup;
  setup.LogFileName = ::LogFileName;
  setup.HelpFileName = ::HelpFileName;
  setup.SettingsFileName = ::SettingsFileName;
  setup.SettingsFallbackFileName = ::SettingsFallbackFileName;
  setup.PerUserFiles = TUserFiles::Program().PerUser;
  setup.Parameters = Parameters;
  return setup;
}

TMainForm::TMainForm(const TMainFormSetup& Setup, QWidget* Parent) : QMainWindow(Parent), FSetup(Setup) {
  // The settings load inside Init reaches the window through MainForm.
  MainForm = this;
  try {
    CreateControls();
    CreateActions();
    LinkButtons();
    CreateMenu();
    Init();
  } catch (...) {
    if (Application != nullptr) Application->SetOnIdle(nullptr);
    if (MainForm == this) MainForm = nullptr;
    throw;
  }
}

TMainForm::~TMainForm() {
  if (Application != nullptr && Application->IdleHooked()) Application->SetOnIdle(nullptr);
  FreeManagers();
  if (MainForm == this) MainForm = nullptr;
}

void TMainForm::CreateControls() {
  setWindowTitle(QStringLiteral("Varnex"));
  setWindowIcon(QIcon(QStringLiteral(":/varnex/varnex.png")));
  // A fixed frame with a system menu and a minimise button, but no maximise.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  auto* client = new QWidget(this);
  setCentralWidget(client);
  client->setFont(DefaultFormFont(client));
  SetScaledClientSize(client, 376, 136);
  // The window takes the size of the menu bar and the client area, and keeps it.
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  CreateInputRows(client);
  LinkCaptions();
}

void TMainForm::CreateInputRows(QWidget* Client) {
  auto label = [Client](int Left, int Top, int Width, const char* Text) {
    auto* l = new QLabel(QString::fromUtf8(Text), Client);
    l->setTextFormat(Qt::PlainText);
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    SetScaledBounds(l, Left, Top, Width, 26);
    return l;
  };
  auto swatch = [Client](int Top) {
    auto* l = new QLabel(Client);
    l->setAutoFillBackground(true);
    SetScaledBounds(l, 180, Top, 16, 16);
    return l;
  };
  auto button = [Client](int Top, const char* Purpose) {
    auto* b = new QPushButton(QStringLiteral("..."), Client);
    b->setAutoDefault(false);
    SetScaledBounds(b, 340, Top, 26, 26);
    // "..." says nothing to a screen reader, nor to a user who wonders what it does.
    b->setAccessibleName(QString::fromUtf8(Purpose));
    b->setToolTip(QString::fromUtf8(Purpose));
    return b;
  };
  Label1 = label(10, 10, 161, "&Light color:");
  Label2 = swatch(15);
  Label3 = label(205, 10, 131, "[256, 256, 256]");
  Button1 = button(10, "Choose the light color");
  Label4 = label(10, 40, 161, "&Shadow color:");
  Label5 = swatch(45);
  Label6 = label(205, 40, 131, "[128, 128, 128]");
  Button2 = button(40, "Choose the shadow color");
  Label7 = label(10, 70, 356, "&Output directory:");
  Edit1 = new QLineEdit(Client);
  SetScaledBounds(Edit1, 30, 100, 306, 23);
  // Files dropped on the field are converted like files dropped anywhere else,
  // not pasted into it as text.
  Edit1->setAcceptDrops(false);
  Button3 = button(100, "Choose the output directory");
}

void TMainForm::LinkCaptions() {
  // The three captions mark their accelerator; the colour texts show '&' as typed.
  for (QLabel* caption : {Label1, Label4, Label7}) caption->setTextFormat(Qt::AutoText);
  Label1->setBuddy(Button1);
  Label4->setBuddy(Button2);
  Label7->setBuddy(Edit1);
  // A label whose buddy is a button clicks it; these two only move the focus (eventFilter).
  Label1->installEventFilter(this);
  Label4->installEventFilter(this);
  for (QLabel* l : {Label1, Label2, Label3, Label4, Label5, Label6, Label7}) l->setFocusPolicy(Qt::NoFocus);
  setTabOrder(Button1, Button2);
  setTabOrder(Button2, Edit1);
  setTabOrder(Edit1, Button3);
  Edit1->installEventFilter(this);
  // Enter presses a focused button, as Space does.
  for (QPushButton* b : {Button1, Button2, Button3}) b->installEventFilter(this);
}

void TMainForm::CreateActions() {
  auto action = [this](const char* Name, const char* Category, const char* Text, void (TMainForm::*Handler)()) {
    auto* a = new QAction(QString::fromUtf8(Text), this);
    a->setObjectName(QString::fromUtf8(Name));
    a->setProperty("category", QString::fromUtf8(Category));
    // A field left by the click that runs the command is checked first; when the
    // check fails, the command does not run.
    connect(a, &QAction::triggered, this, [this, Handler] {
      RunGuarded([this, Handler] {
        RunPendingEdit1Exit();
        (this->*Handler)();
      });
    });
    // Added to the window, a shortcut works wherever the focus is in it.
    addAction(a);
    return a;
  };
  GlyphsConvertFilesAc = action("GlyphsConvertFilesAc", "Glyphs", "&Convert...", &TMainForm::GlyphsConvertFilesAcExecute);
  GlyphsConvertFilesAc->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  GlyphsConvertAc = action("GlyphsConvertAc", "Glyphs", "", &TMainForm::GlyphsConvertAcExecute);
  GlyphsConvertAc->setVisible(false);
  GlyphsSaveLogAsAc = action("GlyphsSaveLogAsAc", "Glyphs", "&Save Log As...", &TMainForm::GlyphsSaveLogAsAcExecute);
  GlyphsSaveLogAsAc->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  GlyphsDeleteLogAc = action("GlyphsDeleteLogAc", "Glyphs", "&Delete Log...", &TMainForm::GlyphsDeleteLogAcExecute);
  GlyphsExitAc = action("GlyphsExitAc", "Glyphs", "E&xit", &TMainForm::GlyphsExitAcExecute);
  HelpContentsAc = action("HelpContentsAc", "Help", "&Contents...", &TMainForm::HelpContentsAcExecute);
  HelpContentsAc->setShortcut(QKeySequence(Qt::Key_F1));
  HelpAboutAc = action("HelpAboutAc", "Help", "&About", &TMainForm::HelpAboutAcExecute);
  InputLightColorAc = action("InputLightColorAc", "Input", "", &TMainForm::InputLightColorAcExecute);
  InputShadowColorAc = action("InputShadowColorAc", "Input", "", &TMainForm::InputShadowColorAcExecute);
  InputOutputDirAc = action("InputOutputDirAc", "Input", "", &TMainForm::InputOutputDirAcExecute);
}

void TMainForm::LinkButtons() {
  // Each button keeps its own caption and follows its action's enabled state.
  const std::pair<QPushButton*, QAction*> links[] = {
      {Button1, InputLightColorAc}, {Button2, InputShadowColorAc}, {Button3, InputOutputDirAc}};
  for (auto [b, a] : links) {
    connect(b, &QPushButton::clicked, a, [a] { a->trigger(); });
    connect(a, &QAction::changed, b, [a, b] { b->setEnabled(a->isEnabled()); });
  }
  // Qt never enables or disables an action by itself, so nothing stands for an
  // update handler here: only UpdateLogActions changes an action's state.
}

void TMainForm::CreateMenu() {
  // A lone Alt selects the menu bar, and F10 opens its first menu, as on other desktops.
  auto* menuStyle = new TMenuKeysStyle;
  menuStyle->setParent(menuBar());
  menuBar()->setStyle(menuStyle);
  auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
  connect(f10, &QShortcut::activated, this, [this] { menuBar()->setActiveAction(GlyphsMenu->menuAction()); });
  GlyphsMenu = menuBar()->addMenu(QStringLiteral("&Glyphs"));
  GlyphsMenu->addAction(GlyphsConvertFilesAc);
  GlyphsMenu->addSeparator();
  GlyphsMenu->addAction(GlyphsSaveLogAsAc);
  GlyphsMenu->addAction(GlyphsDeleteLogAc);
  GlyphsMenu->addSeparator();
  GlyphsMenu->addAction(GlyphsExitAc);
  HelpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
  HelpMenu->addAction(HelpContentsAc);
  HelpMenu->addSeparator();
  HelpMenu->addAction(HelpAboutAc);
}

void TMainForm::Init() {
  try {
    Application->SetOnIdle([this](TObject* Sender) { ApplicationIdle(Sender); });
    setAcceptDrops(true);
    FGlyphsMan = std::make_unique<TGlyphsMan>(FSetup.LogFileName, FSetup.PerUserFiles);
    FHelpMan = std::make_unique<THelpMan>(FSetup.HelpFileName, FSetup.OpenDocument);
    FInputMan = std::make_unique<TInputMan>();
    FSettingsMan = std::make_unique<TSettingsMan>(FSetup.SettingsFileName, FSetup.SettingsFallbackFileName,
                                                   FSetup.PerUserFiles);
    FFileList = std::make_unique<TStringList>();
    SetLightColor(0xFFFFFF);
    SetShadowColor(0x808080);
    SetOutputDir(DefaultOutputDir());
    UpdateLogActions();
    FSettingsMan->Load();
    Button1->setFocus();
  } catch (...) {
    FreeManagers();
    throw;
  }
}

void TMainForm::FreeManagers() {
  FFileList.reset();
  FSettingsMan.reset();
  FInputMan.reset();
  FHelpMan.reset();
  FGlyphsMan.reset();
}

TGlyphsMan* TMainForm::GlyphsMan() const { return FGlyphsMan.get(); }
THelpMan* TMainForm::HelpMan() const { return FHelpMan.get(); }
TInputMan* TMainForm::InputMan() const { return FInputMan.get(); }
TSettingsMan* TMainForm::SettingsMan() const { return FSettingsMan.get(); }
TStringList* TMainForm::FileList() const { return FFileList.get(); }

TColor TMainForm::GetLightColor() const { return Label2->property(ColorProperty).value<TColor>(); }

void TMainForm::SetLightColor(TColor Value) { ShowColor(Label2, Label3, Value); }

TColor TMainForm::GetShadowColor() const { return Label5->property(ColorProperty).value<TColor>(); }

void TMainForm::SetShadowColor(TColor Value) { ShowColor(Label5, Label6, Value); }

std::string TMainForm::GetOutputDir() const {
  std::string dir = Edit1->text().toStdString();
  if (dir.empty()) throw EInvalidFormInput("Specify the path of a directory.", Edit1);
  return dir;
}

void TMainForm::SetOutputDir(const std::string& Value) { Edit1->setText(QString::fromStdString(Value)); }

void TMainForm::CheckOutputDir() const { (void)GetOutputDir(); }

void TMainForm::ShowColor(QLabel* Swatch, QLabel* Text, TColor Value) {
  Swatch->setProperty(ColorProperty, QVariant::fromValue<TColor>(Value));
  QPalette palette = Swatch->palette();
  palette.setColor(QPalette::Window, ToQColor(Value));
  Swatch->setPalette(palette);
  char text[48];
  std::snprintf(text, sizeof text, "[%u, %u, %u]", Value & 0xFFu, (Value >> 8) & 0xFFu, (Value >> 16) & 0xFFu);
  Text->setText(QString::fromLatin1(text));
}

// Left and Top are the frame's position. Before the first showing the frame is
// not there yet: the window manager is asked for the frame it will add, and the
// client area, which the window system places exactly, goes inside it.
int TMainForm::Left() const { return isVisible() ? frameGeometry().x() : geometry().x() - FFrameMargins.left(); }

void TMainForm::SetLeft(int Value) { MoveFrame(Value, Top()); }

int TMainForm::Top() const { return isVisible() ? frameGeometry().y() : geometry().y() - FFrameMargins.top(); }

void TMainForm::SetTop(int Value) { MoveFrame(Left(), Value); }

bool TMainForm::PositionKnown() const { return WindowPositionsAvailable(); }

void TMainForm::MoveFrame(int NewLeft, int NewTop) {
  if (!WindowPositionsAvailable()) return;
  if (isVisible()) {
    move(NewLeft, NewTop);
    return;
  }
  FFrameMargins = ExpectedFrameMargins(this);
  // The window exists now, so move() places the client area, also at (0, 0).
  move(NewLeft + FFrameMargins.left(), NewTop + FFrameMargins.top());
}

void TMainForm::UpdateLogActions() {
  const bool exists = FGlyphsMan->LogExists();
  GlyphsSaveLogAsAc->setEnabled(exists);
  GlyphsDeleteLogAc->setEnabled(exists);
}

void TMainForm::ApplicationIdle(TObject*) {
  Application->SetOnIdle(nullptr);
  CheckParameters();
}

void TMainForm::CheckParameters() {
  if (!FSetup.Parameters.empty()) ErrorBox("This program does not accept parameters.");
}
