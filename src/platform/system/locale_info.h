#pragma once

namespace loopmon {

// The decimal separator of the user's locale ('.' or ',').
char userDecimalSeparator();

}  // namespace loopmon
