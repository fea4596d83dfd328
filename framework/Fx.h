// The framework layer: the small set of application-framework pieces this system uses.
#pragma once

#include "FxTypes.h"
#include "FxString.h"
#include "FxObject.h"
#include "FxColl.h"
#ifdef _WIN32
#include "FxSync.h"
#include "FxThread.h"
#include "FxApp.h"
#endif
