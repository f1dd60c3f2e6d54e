// The program's entry, called by the platform's main with UTF-8 arguments.
#pragma once

int app_main(int argc, char** argv);
