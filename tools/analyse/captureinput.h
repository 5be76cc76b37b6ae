// Feeds a capture file or a recording to a link analysis, the way its bytes arrived.
//
// Lines starting with '#' are file headers and are skipped. A file whose first other line
// starts with a UTC stamp (capturestamp.h) is a timestamped capture: each stamp is taken
// off and gives the arrival time of the bytes behind it. Any other file is fed as it is,
// with unknown arrival times. The file's last line counts even without its line end.
//
// Returns whether the file was timestamped; the time of its last stamp goes to *lastTime.
#pragma once

#include "linkanalysis.h"

#include <string_view>

bool FeedCapture(std::string_view bytes, TLinkAnalysis& analysis, std::int64_t* lastTime);
