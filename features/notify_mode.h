// Which lines from others notify: the three choices of the Notify menu.
#pragma once

enum class NotifyMode { EveryLine, Mentions, None };
