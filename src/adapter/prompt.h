#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace telmora::adapter {

// Writes `prompt` (no line end) and reads one line from standard input. With `echo` false
// and a terminal on standard input, echo is switched off before the prompt appears and put
// back afterwards, also when a signal ends the program meanwhile. The line comes without its
// line end and is otherwise untouched. Absent at end of input.
[[nodiscard]] std::optional<QString> ask(const QByteArray& prompt, bool echo);

// Puts the terminal back as it was, if ask() changed it; safe in a signal handler.
void restoreTerminal();

} // namespace telmora::adapter
