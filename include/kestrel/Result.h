// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace Kestrel {

/// Result codes of the engine boundary.
inline constexpr int32_t kResultOk = 0;
inline constexpr int32_t kResultNoInterface = 3;
inline constexpr int32_t kResultFailure = static_cast<int32_t>(0x80100001u);
inline constexpr int32_t kResultBadUrl = static_cast<int32_t>(0x80800001u);
/// readStream: nothing due yet; setClock: null clock.
inline constexpr int32_t kResultNotYet = -1;

/// The one interface identifier the container answers.
inline constexpr const char* kContainerInterfaceId = "com.veyra.kestrel.interface.container";

} // namespace Kestrel
