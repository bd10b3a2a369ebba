// The Log tab's text view: each new line keeps the view at the newest one, unless the user
// scrolled up to read an older one; scrolling back to the end follows again. This holds
// while another tab is shown, so the Log tab opens at the newest line.
#pragma once

#include <QString>

class QPlainTextEdit;

namespace tovamo {

void FollowLogEnd(QPlainTextEdit* view);  // once, after the view is made
void AppendLogLine(QPlainTextEdit* view, const QString& line);

}  // namespace tovamo
