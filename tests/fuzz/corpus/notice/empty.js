notices = []
