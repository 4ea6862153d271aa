#pragma once

// 1 while -D was given: the stages then print trace lines on standard output.
extern int debug_flag;
