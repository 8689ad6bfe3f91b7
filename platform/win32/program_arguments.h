// The process arguments, kept by main() for the GUI library, which wants them
// alive for as long as it runs.
#pragma once

namespace platform {

void setProgramArguments(int argc, char** argv);

}  // namespace platform
