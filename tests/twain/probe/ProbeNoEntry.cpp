// A shared object that is no manager: it exports nothing called DSM_Entry.
extern "C" __attribute__((visibility("default"))) int NotTheEntry()
{
    return 7;
}
