// A program that does nothing: the yardstick beside a stub's time at logon (scripts/bench).
int main() {
    return 0;
}
