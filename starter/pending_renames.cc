#include "starter/pending_renames.h"
