# Names nobody may log in with, one a line.  A line matches either word of
# a name, so no word of a real caller's name belongs here.
Guest
All
Everybody
Anonymous
Administrator
