// The window layer's programming interface: include this to get every part of it.
#pragma once

#include "KIT/shim/shim-dlggen.h"
#include "KIT/shim/shim-gdi.h"
#include "KIT/shim/shim-ini.h"
#include "KIT/shim/shim-kb.h"
#include "KIT/shim/shim-menu.h"
#include "KIT/shim/shim-misc.h"
#include "KIT/shim/shim-miscdlg.h"
#include "KIT/shim/shim-sys.h"
#include "KIT/shim/shim-types.h"
#include "KIT/shim/shim-wnd.h"
