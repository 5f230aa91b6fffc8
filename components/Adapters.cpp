// The adapter classes are complete in their header.
#include "components/Adapters.h"
