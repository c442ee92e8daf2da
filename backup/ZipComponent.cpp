#include "ZipComponent.h"
