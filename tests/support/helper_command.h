#include "program_launch.h"  // helperCommand() and helperIsWrapped() are there
