#include "updater/app/window_host.h"

#include "updater/app/updater_window.h"

namespace updater::app {

WindowHost::WindowHost(SharedFlags& flags, UiBridge& bridge, UpdaterWindow& window, Mode mode)
    : WorkerHost(flags), bridge_(bridge), window_(window), mode_(mode) {}

// Every call copies what it shows: the worker's strings live on its stack.

void WindowHost::AddStatusLine(const std::string& line) {
  bridge_.Call([w = &window_, text = QString::fromStdString(line)] { w->AddStatusLine(text); });
}

void WindowHost::SetProgressRange(int low, int high) {
  bridge_.Call([w = &window_, low, high] { w->SetProgressRange(low, high); });
}

// The bar moves only by positions; its step has no use here.
void WindowHost::SetProgressStep(int) {}

void WindowHost::SetProgressPosition(int position) {
  bridge_.Call([w = &window_, position] { w->SetProgressPosition(position); });
}

void WindowHost::SetSecondsText(const std::string& text) {
  bridge_.Call([w = &window_, t = QString::fromStdString(text)] { w->SetSecondsText(t); });
}

void WindowHost::ShowMessage(const std::string& text) {
  bridge_.Call([w = &window_, t = QString::fromStdString(text)] { w->ShowBox(t); });
}

void WindowHost::StartTimer(TimerId id) {
  bridge_.Call([w = &window_, id] { w->StartTimer(id); });
}

void WindowHost::StopTimers() {
  bridge_.Call([w = &window_] { w->StopTimers(); });
}

void WindowHost::WorkerEnded() {
  bridge_.Call([w = &window_] { w->WorkerEnded(); });
}

void WindowHost::ReportFailure(Failure kind, const std::string& reason) {
  bridge_.Call([w = &window_, kind, r = QString::fromStdString(reason)] { w->NoteFailure(kind, r); });
}

}  // namespace updater::app
