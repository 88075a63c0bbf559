#include "starter/jvm_rotation.h"
