#pragma once

#include "platform/ascii_case.h"
