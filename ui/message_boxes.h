// The GUI's answer to the engine's message boxes: MessageBoxText and ErrorBox
// become Japanese message boxes on the user-interface thread.
#pragma once

#include <functional>

class QString;
class QWidget;

namespace veld {

// Installs the sink. Boxes without an owner are owned by the given window
// (normally the main frame). Boxes asked for on another thread (the search
// worker's "検索エラー") are queued to the interface thread and shown there
// without making the worker wait.
void InstallGuiMessageBoxSink(QWidget* defaultOwner);

// Asks a Yes/No question; true for Yes (the default button is No).
bool AskYesNo(QWidget* owner, const QString& text);
// Tests answer the questions instead (an empty function restores the boxes).
using QuestionAnswerer = std::function<bool(const QString& text)>;
void SetQuestionAnswererForTest(QuestionAnswerer answerer);

}  // namespace veld
