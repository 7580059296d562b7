#pragma once
#include "app/ui/MainForm.h"
