// Shared pieces of the application-layer tests: a view that records what the model shows and answers its
// questions from queues, and an extract engine that writes files like a real one.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/extract.h"
#include "app/view.h"

namespace varnok::app::test {

class RecordingView : public ArchiveView {
  public:
    std::string title;
    std::string status[3];
    int panels = 1;
    std::vector<std::pair<std::string, std::string>> messages;
    std::vector<std::pair<std::string, std::string>> questions;
    std::deque<bool> askAnswers;  // empty: No
    std::vector<OverwritePrompt> prompts;
    std::deque<OverwriteAnswer> overwriteAnswers;  // empty: No
    std::deque<std::optional<std::string>> passwords;
    std::optional<std::string> lastPassword;  // given when the queue is empty
    int passwordQuestions = 0;
    std::vector<std::string> logs;
    std::vector<std::string> progressFiles;
    int progressOpened = 0, progressClosed = 0;
    int rowResets = 0, sorts = 0, selectionResets = 0, historyChanges = 0;
    bool busy = false;
    bool installVisible = false;
    // Called on every ProcessEvents (a user acting while an operation runs).
    std::function<void()> onEvents;

    void SetTitle(const std::string& t) override { title = t; }
    void EnsureStatusPanels() override { panels = 3; }
    void RemoveStatusPanels() override {
        panels = 1;
        status[1].clear();
        status[2].clear();
    }
    void SetStatusText(int p, const std::string& t) override {
        if (p >= 0 && p < 3) status[p] = t;
    }
    void SetBusy(bool b) override { busy = b; }
    void Log(const std::string& l) override { logs.push_back(l); }
    void EndRowsUpdate() override { ++rowResets; }
    void RowsSorted() override { ++sorts; }
    void SelectionReset() override { ++selectionResets; }
    void SetInstallVisible(bool v) override { installVisible = v; }
    void HistoryChanged() override { ++historyChanges; }
    bool Ask(const std::string& t, const std::string& text) override {
        questions.emplace_back(t, text);
        if (askAnswers.empty()) return false;
        bool a = askAnswers.front();
        askAnswers.pop_front();
        return a;
    }
    void Message(const std::string& t, const std::string& text) override { messages.emplace_back(t, text); }
    OverwriteAnswer AskOverwrite(const OverwritePrompt& p) override {
        prompts.push_back(p);
        if (overwriteAnswers.empty()) return OverwriteAnswer::No;
        OverwriteAnswer a = overwriteAnswers.front();
        overwriteAnswers.pop_front();
        return a;
    }
    std::optional<std::string> AskPassword(const std::string&) override {
        ++passwordQuestions;
        if (passwords.empty()) return lastPassword;
        auto p = passwords.front();
        passwords.pop_front();
        return p;
    }
    void ProgressOpen(const std::string&) override { ++progressOpened; }
    void ProgressFile(const std::string& n) override { progressFiles.push_back(n); }
    void ProgressClose() override { ++progressClosed; }
    void ProcessEvents() override {
        if (onEvents) onEvents();
    }
};

// An engine over a fixed set of entries (stored name -> content) that behaves like the real ones towards the
// operation: it announces each file, asks before replacing one, writes it, reports progress and errors, and
// stops when cancelled.
struct FakeArchive {
    std::vector<std::pair<std::string, std::string>> entries;
    std::map<std::string, int> errors;  // entry -> error code reported after writing it
    std::vector<std::string> crcFailures;
    // Entries refused for a wrong password, reported as the components do: the attempt under the stored name,
    // then the entry left out under its output path, then its end.
    std::vector<std::string> passwordRefused;
    bool throwFatal = false;
};

class FakeEngine : public ExtractEngine {
  public:
    FakeEngine(const FakeArchive& a, std::vector<ExtractJob>& jobs) : a_(a), jobs_(jobs) {}
    ExtractOutcome Run(const ExtractJob& job, ExtractEvents& ev) override;
    void Cancel() override { cancelled_ = true; }

  private:
    const FakeArchive& a_;
    std::vector<ExtractJob>& jobs_;
    bool cancelled_ = false;
};

class FakeFactory : public ExtractEngineFactory {
  public:
    FakeArchive archive;
    std::vector<ExtractJob> jobs;
    bool haveZip = true, haveComponent = true;
    std::unique_ptr<ExtractEngine> ForZip(TZipBridge&, TArcType) override {
        return haveZip ? std::make_unique<FakeEngine>(archive, jobs) : nullptr;
    }
    std::unique_ptr<ExtractEngine> ForType(TArcType) override {
        return haveComponent ? std::make_unique<FakeEngine>(archive, jobs) : nullptr;
    }
};

}  // namespace varnok::app::test
