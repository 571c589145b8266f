#pragma once

// The one reference holder, for every test, harness and benchmark.

#include "kestrel/Ref.h"

namespace KestrelTest {

using Kestrel::Ref;

} // namespace KestrelTest
