#include "gui/DialogSeam.h"

#include "gui/ModalFocus.h"

#include <stdexcept>

namespace {

TDialogScript* CurrentScript = nullptr;

}  // namespace

TDialogAnswer TDialogAnswer::Yes() {
  TDialogAnswer a;
  a.Kind = dkQuestion;
  a.Accept = true;
  return a;
}

TDialogAnswer TDialogAnswer::No() {
  TDialogAnswer a;
  a.Kind = dkQuestion;
  return a;
}

TDialogAnswer TDialogAnswer::Ok(TDialogKind Kind) {
  TDialogAnswer a;
  a.Kind = Kind;
  a.Accept = true;
  return a;
}

TDialogAnswer TDialogAnswer::Cancel(TDialogKind Kind) {
  TDialogAnswer a;
  a.Kind = Kind;
  return a;
}

TDialogAnswer TDialogAnswer::Open(TStringList Files, int FilterIndex) {
  TDialogAnswer a;
  a.Kind = dkOpenFile;
  a.Accept = true;
  a.Files = std::move(Files);
  a.FilterIndex = FilterIndex;
  return a;
}

TDialogAnswer TDialogAnswer::Save(std::string Path, int FilterIndex) {
  TDialogAnswer a;
  a.Kind = dkSaveFile;
  a.Accept = true;
  a.Files.push_back(std::move(Path));
  a.FilterIndex = FilterIndex;
  return a;
}

TDialogAnswer TDialogAnswer::PickColor(TColor Color, std::vector<TColor> CustomColors) {
  TDialogAnswer a;
  a.Kind = dkColor;
  a.Accept = true;
  a.Color = Color;
  a.CustomColors = std::move(CustomColors);
  return a;
}

TDialogAnswer TDialogAnswer::PickFolder(std::string Folder) {
  TDialogAnswer a;
  a.Kind = dkFolder;
  a.Accept = true;
  a.Folder = std::move(Folder);
  return a;
}

TDialogScript::TDialogScript() {
  if (CurrentScript != nullptr) throw std::logic_error("a dialog script is installed already");
  CurrentScript = this;
}

TDialogScript::~TDialogScript() { CurrentScript = nullptr; }

TDialogScript& TDialogScript::Then(TDialogAnswer Answer) {
  FAnswers.push_back(std::move(Answer));
  return *this;
}

const std::vector<TDialogRequest>& TDialogScript::Requests() const { return FRequests; }

std::size_t TDialogScript::Remaining() const { return FAnswers.size(); }

int TDialogScript::Unexpected() const { return FUnexpected; }

TDialogScript* TDialogScript::Current() { return CurrentScript; }

TDialogAnswer TDialogScript::Take(const TDialogRequest& Request) {
  FRequests.push_back(Request);
  // A dialog the script did not foresee is cancelled, which is the answer that
  // changes least; the count lets the test notice it.
  if (FAnswers.empty() || FAnswers.front().Kind != Request.Kind) {
    ++FUnexpected;
    return TDialogAnswer::Cancel(Request.Kind);
  }
  TDialogAnswer answer = std::move(FAnswers.front());
  FAnswers.pop_front();
  if (answer.WhileOpen) answer.WhileOpen(Request);
  return answer;
}

TDialogAnswer RunDialog(const TDialogRequest& Request,
                        const std::function<TDialogAnswer(const TDialogRequest&)>& RunReal) {
  if (TDialogScript* script = TDialogScript::Current()) return script->Take(Request);
  const TModalFocusScope keyboard;
  return RunReal(Request);
}
