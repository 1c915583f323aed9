// talvor-manager: the Qt window over the core.
#include "ui/the_app.h"

int main(int argc, char** argv)
{
    static talvor::CTheApp theApp;
    return theApp.InitInstance(argc, argv);
}
