#pragma once

// The console's pages, by the index that shows them.
namespace ConsolePage {
enum : int { home = 0, route = 1, import = 2, add = 3, user = 4 };
}

// The tags of the console's controls. Every control reports its tag to the console's one
// handler, which tells them apart by it.
namespace ConsoleTag {
enum : int {
    close = 1,
    minimise = 2,
    customerService = 3,
    signIn = 168,
    signInTips = 169,
    account = 170,
    start = 1000,
    nodeLine = 1001,
    ruleMode = 1002,
    globalMode = 1003,
    // The tab bar: homeTab + a page's index opens that page. The home tab is the page on show.
    homeTab = 1100,
    routeTab = homeTab + ConsolePage::route,
    userTab = homeTab + ConsolePage::user,
    // The toolbar: toolbarHome + a page's index shows that page, up to one slot past the last.
    toolbarHome = 2000,
    toolbarRoute = toolbarHome + ConsolePage::route,
    toolbarImport = toolbarHome + ConsolePage::import,
    toolbarAdd = toolbarHome + ConsolePage::add,
    toolbarUser = toolbarHome + ConsolePage::user,
    toolbarPastLast = toolbarHome + 5,
};
}
