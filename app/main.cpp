#include "VantroApp.h"

int main(int argc, char* argv[])
{
    return vantro::VantroApp::main(argc, argv);
}
