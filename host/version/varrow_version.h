// The build's version, shared by varrow, varrowd and @@VERSION: the project's
// version, and the `git describe` of the sources it was built from when
// they are a clone ("1.0.0 (fce5407)"). Defined in a file the build writes
// afresh whenever the description changes.
#pragma once

namespace varrow {

extern const char VERSION[];

}  // namespace varrow
