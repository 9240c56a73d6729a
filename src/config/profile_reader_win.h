#pragma once
#include "config/profile_reader.h"

// Reads INI files with GetPrivateProfileIntA and GetPrivateProfileStringA.
extern const ProfileReader kWindowsProfileReader;
