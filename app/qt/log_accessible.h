// What screen readers find of the chat log: its text, read line by line as the log has its lines.
#pragma once

// From the call on, the window's log (the read-only QPlainTextEdit named IDC_LOG) answers
// assistive tools through LogAccessible. Qt's own answer for a plain text edit ends a line before
// its line break, so a reader that steps from line to line by their ends never gets past the
// first; here each line is the log's line up to and with its break. Call before the log is made:
// Qt keeps the first answer it makes for a widget.
void InstallLogAccessible();
