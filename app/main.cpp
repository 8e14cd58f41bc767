// The program: one application object, run by the framework's entry.
#include "app/CPellucorApp.h"

CPellucorApp theApp;

int main(int argc, char** argv)
{
    return AfxWinMain(argc, argv);
}
