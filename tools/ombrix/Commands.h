#pragma once

int RunDemo(int argc, char** argv);
