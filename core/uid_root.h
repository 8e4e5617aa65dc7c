#pragma once
// The organisation UID root under which the program creates all its UIDs. Its length is even, so
// root + ".999" (the Implementation Class UID) needs no padding, and at most 24 characters, so that
// a base UID + ".1." + instance number stays within 64 characters.
inline constexpr const char kOrgUIDRoot[] = "1.3.6.1.4.1.59412.31";
inline constexpr const char kImplementationClassUID[] = "1.3.6.1.4.1.59412.31.999";
inline constexpr const char kImplementationVersionName[] = "Brelvando";
static_assert(sizeof(kOrgUIDRoot) - 1 <= 24 && (sizeof(kOrgUIDRoot) - 1) % 2 == 0);
