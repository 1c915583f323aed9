// talvor-manager: the Qt window over the core.
#include "transport/open_files.h"
#include "ui/the_app.h"

int main(int argc, char** argv)
{
    talvor::raise_open_file_limit();
    static talvor::CTheApp theApp;
    return theApp.InitInstance(argc, argv);
}
