/* A shared object that carries the right file name but none of FFmpeg's entry points. */
int auralon_fake_library_marker(void)
{
    return 42;
}
