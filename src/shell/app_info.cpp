#include "shell/app_info.h"
