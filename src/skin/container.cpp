#include "skin/container.h"
