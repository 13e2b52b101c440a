// The late libraries' seam for tests: a library that is not installed.
#pragma once

#include "platform/media/late/late.h"

namespace orv::media::late {

// Makes the library's loading fail as it does when its file is missing. Before anything loads it.
void PretendMissingForTests(Library library);

}  // namespace orv::media::late
