# Mail and news aliases nobody may take, one a line.
root
postmaster
mailer-daemon
news
uucp
sysop
abuse
