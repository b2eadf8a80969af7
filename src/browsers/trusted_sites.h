#pragma once
// Trusted sites of the current user and the plain registry reader. Before a
// deployment page of the operator is opened in Microsoft Edge, the
// operator's hosts join the trusted-sites zone (zone 2) and the local-machine
// lockdown of iexplore.exe is switched off. Everything is written to the
// current user's hive and never removed; failures are silent. Application
// thread only.
#include <string>

namespace quil {

inline constexpr char kZoneMapDomainsKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains";
inline constexpr char kZoneMapRangesKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Ranges";
inline constexpr char kLockdownKey[] =
    "Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_LOCALMACHINE_LOCKDOWN";

// A dotted IPv4 address (four groups of digits) goes under Ranges: the
// "Range<n>" subkey whose ":Range" value equals it, else the lowest free
// number from 1 to 999; a host name is one subkey of Domains, not split at
// its dots. Either key gets the DWORD values "http" = 2 and "https" = 2.
// `host` is narrow (code page 950).
void addTrustedSite(const std::string& host);

// "iexplore.exe" = 0 under the lockdown key.
void disableLocalMachineLockdown();

enum class RegistryRoot { kCurrentUser, kLocalMachine };

// The string value `value_name` (the default value when empty) of
// root\subkey: REG_SZ, or REG_EXPAND_SZ unexpanded, in UTF-8. The empty text
// when the key or value is missing or of another type. There is no machine
// hive here: kLocalMachine always answers the empty text.
std::string readRegistryString(RegistryRoot root, const std::string& subkey, const std::string& value_name);

}  // namespace quil
