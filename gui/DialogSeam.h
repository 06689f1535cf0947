#pragma once
// The one seam through which every dialog and message box runs. Normally the real
// Qt widget is shown; while a TDialogScript is installed it answers instead, so
// tests can drive the program deterministically.

#include "base/Types.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// The kind of a dialog or box.
enum TDialogKind : std::uint8_t { dkQuestion, dkError, dkInformation, dkOpenFile, dkSaveFile, dkColor, dkFolder };

// What a dialog shows when it opens.
struct TDialogRequest {
  // The kind of dialog.
  TDialogKind Kind = dkQuestion;
  // The caption of a box or the title of a dialog.
  std::string Caption;
  // The text of a box, or the instruction above the folder tree.
  std::string Text;
  // File dialogs: the proposed file name.
  std::string FileName;
  // File dialogs: the filter string ("Name|patterns|...").
  std::string Filter;
  // File dialogs: the 1-based filter index at opening.
  int FilterIndex = 0;
  // Folder browser: the proposed folder; file dialogs: the initial directory.
  std::string Folder;
  // Colour dialog: the starting colour as plain RGB.
  TColor Color = 0;
  // Colour dialog: the 16 custom colours at opening.
  std::vector<TColor> CustomColors;
};

// How a dialog is answered: by the user through the real widget, or by a script.
struct TDialogAnswer {
  // The kind of dialog this answer is meant for.
  TDialogKind Kind = dkQuestion;
  // Yes, OK or a confirmed choice.
  bool Accept = false;
  // File dialogs: the chosen paths (a save dialog uses the first).
  TStringList Files;
  // File dialogs: the selected 1-based filter index; 0 keeps the one at opening.
  int FilterIndex = 0;
  // Colour dialog: the chosen colour.
  TColor Color = 0;
  // Colour dialog: the custom colours after the run; empty keeps them.
  std::vector<TColor> CustomColors;
  // Folder browser: the chosen folder.
  std::string Folder;
  // Runs while the scripted dialog is "open", before the answer takes effect.
  std::function<void(const TDialogRequest&)> WhileOpen;

  // Yes to a question box.
  static TDialogAnswer Yes();
  // No to a question box.
  static TDialogAnswer No();
  // OK to an error or information box.
  static TDialogAnswer Ok(TDialogKind Kind);
  // Cancel for a dialog of Kind.
  static TDialogAnswer Cancel(TDialogKind Kind);
  // Confirms an open dialog with Files and, unless 0, the filter FilterIndex.
  static TDialogAnswer Open(TStringList Files, int FilterIndex = 0);
  // Confirms a save dialog with Path and, unless 0, the filter FilterIndex.
  static TDialogAnswer Save(std::string Path, int FilterIndex = 0);
  // Confirms the colour dialog with Color and, unless empty, new custom colours.
  static TDialogAnswer PickColor(TColor Color, std::vector<TColor> CustomColors = {});
  // Confirms the folder browser with Folder.
  static TDialogAnswer PickFolder(std::string Folder);
};

// A queue of scripted answers, installed for its lifetime (one at a time).
class TDialogScript {
public:
  // Installs the script; raises std::logic_error when one is installed already.
  TDialogScript();
  // Uninstalls the script; real dialogs run again.
  ~TDialogScript();
  TDialogScript(const TDialogScript&) = delete;
  TDialogScript& operator=(const TDialogScript&) = delete;

  // Queues Answer for the next dialog.
  TDialogScript& Then(TDialogAnswer Answer);
  // Every request made while installed, in order.
  const std::vector<TDialogRequest>& Requests() const;
  // The answers not used yet.
  std::size_t Remaining() const;
  // Requests that met an empty queue or an answer of another kind; they were cancelled.
  int Unexpected() const;

  // The installed script, or null.
  static TDialogScript* Current();
  // Records Request and hands out the next answer (a cancel when none fits).
  TDialogAnswer Take(const TDialogRequest& Request);

private:
  std::deque<TDialogAnswer> FAnswers;
  std::vector<TDialogRequest> FRequests;
  int FUnexpected = 0;
};

// Runs a dialog through the seam: the script answers when installed, RunReal otherwise.
TDialogAnswer RunDialog(const TDialogRequest& Request, const std::function<TDialogAnswer(const TDialogRequest&)>& RunReal);
