/* A shared object that stands where an FFmpeg library is expected but has none of its
   entry points, so that loading the libraries from its folder fails. */
int auralon_no_ffmpeg_here(void)
{
    return 0;
}
