#pragma once

// Where the host is found on the session bus. The panel, the host programs and the tests share these.
namespace contract {
inline constexpr char busName[] = "Palvo2.Application";
inline constexpr char objectPath[] = "/Palvo2/Application";
inline constexpr char interfaceName[] = "Palvo2.Application";
} // namespace contract
