// Splitting received IRC bytes at line ends.
#include "irc/irc_line_buffer.h"

bool IrcLineBuffer::next(std::string& line) {
    for (;;) {
        const size_t end = pending.find('\n');
        if (end == std::string::npos) {
            if (pending.size() > LINE_LIMIT) {
                pending.clear();
                skipping = true;
            }
            return false;
        }
        const bool dropped = skipping || end > LINE_LIMIT;
        skipping = false;
        if (!dropped) {
            line.assign(pending, 0, end);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
        }
        pending.erase(0, end + 1);
        if (!dropped)
            return true;
    }
}
