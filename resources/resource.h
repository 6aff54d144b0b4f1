#pragma once
// Resource identifiers shared by the .rc script and the program.
#define IDI_SETUP 1
#define IDR_BANNER 101
#define IDR_EVENT_MESSAGE_FILE 102
#define IDD_ASKTEXT 201
