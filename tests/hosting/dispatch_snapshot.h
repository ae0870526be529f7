// Snapshots of what a caller hands to Invoke, followed through every pointer:
// the DISPPARAMS, the argument array, each by-reference target, the octets of
// every string and the descriptor and data of every array. Two snapshots are
// equal exactly when nothing the caller owns has changed.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <vector>

namespace vavizav::testing {

std::vector<std::uint8_t> Snapshot(const DISPPARAMS* params);

}  // namespace vavizav::testing
