#include "FxObject.h"

const CRuntimeClass CObject::classCObject = {"CObject", int(sizeof(CObject)), nullptr};
