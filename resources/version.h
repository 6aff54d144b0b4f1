#pragma once
// The installer's version: the version resource and the install log.
#define LU_VERSION_NUMBERS 1, 0, 0, 0
#define LU_VERSION_TEXT "1.0.0.0"
#define LU_COMPANY_TEXT "Vantrel"
