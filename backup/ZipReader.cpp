#include "ZipReader.h"
