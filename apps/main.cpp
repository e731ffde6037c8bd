#include "shell/Program.h"

int main(int argc, char **argv)
{
    RunParlavox(argc, argv);
}
