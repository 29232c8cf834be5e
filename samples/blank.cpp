// blank: a program that does nothing: two locals set to 0, and a return.
//
// Run:   ./blank; echo $?
// Watch: no output at all, and status 0.
int main()
{
    [[maybe_unused]] int first = 0;
    [[maybe_unused]] int second = 0;
    return 0;
}
