// The pattern compiler: node programs, the dump, refusals and errors.
#include "re_fixture.h"

namespace {

using retest::Engine;


}  // namespace
