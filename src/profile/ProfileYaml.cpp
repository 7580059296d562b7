#include "profile/ProfileYaml.h"
