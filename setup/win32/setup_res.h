/* Resources of SETUP.EXE: its icon, which the frame shows too. Plain macros only, so the
   resource compiler reads this file as well. */
#pragma once

#define IDI_SETUP 1
