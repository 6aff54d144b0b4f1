#pragma once
// Resource identifiers shared by the .rc script and the program.
#define IDI_SETUP 1
#define IDR_BANNER 101
#define IDD_ASKTEXT 201
