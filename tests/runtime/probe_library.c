// Built several times under different names and folders; each copy says which one it is.

const char* WhichCopy(void)
{
    return PROBE_COPY;
}
