#pragma once
// The main window: the three inputs, the menu and the actions behind every
// command, the managers it owns, dropped files, and the settings on close.

#include "app/HelpMan.h"
#include "base/Classes.h"
#include "base/Types.h"

#include <QMainWindow>
#include <QMargins>

#include <memory>
#include <string>

class QAction;
class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class TGlyphsMan;
class TInputMan;
class TSettingsMan;

// Where the main window's managers keep their files, and what the program was started with.
struct TMainFormSetup {
  // The working log.
  std::string LogFileName;
  // The help file.
  std::string HelpFileName;
  // The settings file.
  std::string SettingsFileName;
  // Read while the settings file does not exist, never written; empty for none.
  std::string SettingsFallbackFileName;
  // True when the log and settings are the user's own files: their missing
  // folders are created, with user-only access, when first written.
  bool PerUserFiles = false;
  // The command-line parameters, without the program's own path.
  TStringList Parameters;
  // Opens the help file; empty uses the desktop's viewer.
  TOpenDocument OpenDocument;

  // The program's own setup: the files of UserFiles.h and the command-line
  // Parameters (without the program's own path).
  static TMainFormSetup Program(const TStringList& Parameters = {});
};

// The program's one main window.
class TMainForm : public QMainWindow, public TObject {
public:
  // Builds the window, stores it in MainForm and runs Init; on failure frees the managers and raises.
  explicit TMainForm(const TMainFormSetup& Setup = TMainFormSetup::Program(), QWidget* Parent = nullptr);
  // Frees the managers in reverse order and clears MainForm.
  ~TMainForm() override;
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // The light colour: the background of the light swatch.
  TColor GetLightColor() const;
  // Shows Value as the light colour.
  void SetLightColor(TColor Value);
  // The shadow colour: the background of the shadow swatch.
  TColor GetShadowColor() const;
  // Shows Value as the shadow colour.
  void SetShadowColor(TColor Value);
  // The output directory; EInvalidFormInput (focus to the field) when the field is empty.
  std::string GetOutputDir() const;
  // Puts Value into the output-directory field.
  void SetOutputDir(const std::string& Value);
  // Raises GetOutputDir's error for an empty field.
  void CheckOutputDir() const;
  // Sets Swatch's background to Value and Text's caption to "[red, green, blue]".
  void ShowColor(QLabel* Swatch, QLabel* Text, TColor Value);

  // The left edge of the window's frame on the screen.
  int Left() const;
  // Moves the frame's left edge to Value, where the window system lets programs place windows.
  void SetLeft(int Value);
  // The top edge of the window's frame (the title bar's top) on the screen.
  int Top() const;
  // Moves the frame's top edge to Value, where the window system lets programs place windows.
  void SetTop(int Value);
  // Whether the window system reports where the window is (not on Wayland).
  bool PositionKnown() const;

  // Enables Save Log As and Delete Log exactly when the working log exists.
  void UpdateLogActions();
  // Warns once when the program was started with parameters.
  void CheckParameters();

  // The Glyphs manager, or null outside the window's life.
  TGlyphsMan* GlyphsMan() const;
  // The Help manager, or null.
  THelpMan* HelpMan() const;
  // The Input manager, or null.
  TInputMan* InputMan() const;
  // The Settings manager, or null.
  TSettingsMan* SettingsMan() const;
  // The files of the next conversion, or null.
  TStringList* FileList() const;

  // Fired after a close request was granted and the window closed.
  TNotifyEvent OnClosed;

  // "&Light color:", focusing Button1.
  QLabel* Label1 = nullptr;
  // The light swatch.
  QLabel* Label2 = nullptr;
  // The light colour's numbers.
  QLabel* Label3 = nullptr;
  // "&Shadow color:", focusing Button2.
  QLabel* Label4 = nullptr;
  // The shadow swatch.
  QLabel* Label5 = nullptr;
  // The shadow colour's numbers.
  QLabel* Label6 = nullptr;
  // "&Output directory:", focusing Edit1.
  QLabel* Label7 = nullptr;
  // Runs InputLightColorAc.
  QPushButton* Button1 = nullptr;
  // Runs InputShadowColorAc.
  QPushButton* Button2 = nullptr;
  // Runs InputOutputDirAc.
  QPushButton* Button3 = nullptr;
  // The output-directory field.
  QLineEdit* Edit1 = nullptr;

  // Glyphs > Convert... (Ctrl+O).
  QAction* GlyphsConvertFilesAc = nullptr;
  // The hidden conversion of FileList.
  QAction* GlyphsConvertAc = nullptr;
  // Glyphs > Save Log As... (Ctrl+S).
  QAction* GlyphsSaveLogAsAc = nullptr;
  // Glyphs > Delete Log...
  QAction* GlyphsDeleteLogAc = nullptr;
  // Glyphs > Exit.
  QAction* GlyphsExitAc = nullptr;
  // Help > Contents... (F1).
  QAction* HelpContentsAc = nullptr;
  // Help > About.
  QAction* HelpAboutAc = nullptr;
  // Chooses the light colour.
  QAction* InputLightColorAc = nullptr;
  // Chooses the shadow colour.
  QAction* InputShadowColorAc = nullptr;
  // Browses for the output directory.
  QAction* InputOutputDirAc = nullptr;

  // The Glyphs menu.
  QMenu* GlyphsMenu = nullptr;
  // The Help menu.
  QMenu* HelpMenu = nullptr;

protected:
  void closeEvent(QCloseEvent* Event) override;
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  void CreateControls();
  void CreateInputRows(QWidget* Client);
  void LinkCaptions();
  void CreateActions();
  void LinkButtons();
  void CreateMenu();
  void Init();
  void FreeManagers();
  void ApplicationIdle(TObject* Sender);
  void FormCloseQuery();
  void WMDropFiles(QDropEvent* Event);

  void GlyphsConvertFilesAcExecute();
  void GlyphsConvertAcExecute();
  void GlyphsSaveLogAsAcExecute();
  void GlyphsDeleteLogAcExecute();
  void GlyphsExitAcExecute();
  void HelpContentsAcExecute();
  void HelpAboutAcExecute();
  void InputLightColorAcExecute();
  void InputShadowColorAcExecute();
  void InputOutputDirAcExecute();
  void Edit1Exit();
  void RunPendingEdit1Exit();
  void MoveFrame(int NewLeft, int NewTop);

  TMainFormSetup FSetup;
  std::unique_ptr<TGlyphsMan> FGlyphsMan;
  std::unique_ptr<THelpMan> FHelpMan;
  std::unique_ptr<TInputMan> FInputMan;
  std::unique_ptr<TSettingsMan> FSettingsMan;
  std::unique_ptr<TStringList> FFileList;
  // The frame the window manager said it will add, before the first showing.
  QMargins FFrameMargins;
  // Whether the output field was left and its exit check has not run yet.
  bool FEdit1ExitPending = false;
};

// The main window, set as soon as its construction starts; null before and after its life.
extern TMainForm* MainForm;
