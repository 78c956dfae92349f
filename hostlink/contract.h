// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where the host is found on the session bus, its members, and the mode names the panel offers.
// The panel, the host programs and the tests share these; Palvo2.Application.xml beside this
// file is the interface itself.
namespace contract {
inline constexpr char busName[] = "Palvo2.Application";
inline constexpr char objectPath[] = "/Palvo2/Application";
inline constexpr char interfaceName[] = "Palvo2.Application";

// The properties, read with org.freedesktop.DBus.Properties.Get, and the one method.
inline constexpr char audioFq[] = "AudioFq";
inline constexpr char fqA[] = "FqA";
inline constexpr char mode[] = "Mode";
inline constexpr char transmitting[] = "Transmitting";
inline constexpr char modesProperty[] = "Modes"; // what <MODE:name> takes
inline constexpr const char *panelProperties[] = {audioFq, fqA, mode}; // the ones the panel reads
inline constexpr const char *properties[] = {audioFq, fqA, mode, transmitting, modesProperty};
inline constexpr char executeMacros[] = "ExecuteMacros";
// The error a host program replies with when it declined a call before anything of it was
// carried out; any other failure is org.freedesktop.DBus.Error.Failed.
inline constexpr char refusedError[] = "Palvo2.Application.Error.Refused";

// How long the panel waits for each answer; a host answers within it.
inline constexpr int callTimeoutMs = 2000;

// In the order the panel lists them; "<MODE:name>" takes exactly these.
inline constexpr const char *modes[] = {
    "SSB",    "AM",     "FM",    "CW",   "BPSK31", "QPSK31", "FSK31", "RTTY", "PACKET",
    "PACTOR", "AMTOR",  "MFSK",  "THROB", "MT63",  "HELL",   "FAX",   "SSTV",
};
} // namespace contract
