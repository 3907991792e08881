#include "platform/mac/mac_url_session.h"

#import <Foundation/Foundation.h>

#include "platform/mac/menu_builder.h"

// One transfer's delegate. A completion-handler task never calls didReceiveData:, so the body
// cap needs a delegate.
@interface TRBTransferDelegate : NSObject <NSURLSessionDataDelegate> {
@public
    std::function<void(dorvane::UrlResult)> completion;
    bool secure;
    int redirects;
    bool refusedRedirect;
    bool tooLarge;
}
@property(nonatomic, strong) NSMutableData* body;
@end

@implementation TRBTransferDelegate
- (void)URLSession:(NSURLSession*)session
                          task:(NSURLSessionTask*)task
    willPerformHTTPRedirection:(NSHTTPURLResponse*)response
                    newRequest:(NSURLRequest*)request
             completionHandler:(void (^)(NSURLRequest*))completionHandler {
    NSString* scheme = request.URL.scheme.lowercaseString;
    const bool allowed =
        [scheme isEqualToString:@"https"] || (!secure && [scheme isEqualToString:@"http"]);
    if (++redirects > 5 || !allowed) {
        refusedRedirect = true;
        completionHandler(nil);  // the redirect itself becomes the answer, and is refused below
        return;
    }
    completionHandler(request);
}
- (void)URLSession:(NSURLSession*)session
          dataTask:(NSURLSessionDataTask*)dataTask
    didReceiveData:(NSData*)data {
    if (self.body.length + data.length > dorvane::MacUrlSession::kMaxBodyBytes) {
        tooLarge = true;
        [dataTask cancel];
        return;
    }
    [self.body appendData:data];
}
- (void)URLSession:(NSURLSession*)session
                    task:(NSURLSessionTask*)task
    didCompleteWithError:(NSError*)error {
    dorvane::UrlResult result;
    if (tooLarge) {
        result.error = "the answer is larger than expected";
    } else if (refusedRedirect) {
        result.error = "the server redirected too often or to an address that is not allowed";
    } else if (error != nil) {
        result.error = dorvane::fromNSString(error.localizedDescription);
    } else {
        result.body = std::string(static_cast<const char*>(self.body.bytes), self.body.length);
    }
    // The session holds its delegate until it is invalidated.
    [session finishTasksAndInvalidate];
    const auto done = std::move(completion);
    if (done) {
        done(std::move(result));
    }
}
@end

namespace dorvane {

void MacUrlSession::dataTask(const UrlRequest& request,
                             std::function<void(UrlResult result)> completion) {
    NSURL* url = [NSURL URLWithString:toNSString(request.url)];
    NSString* scheme = url.scheme.lowercaseString;
    if (url == nil || !([scheme isEqualToString:@"https"] || [scheme isEqualToString:@"http"])) {
        completion(UrlResult{std::nullopt, "only http and https addresses are fetched"});
        return;
    }
    TRBTransferDelegate* delegate = [[TRBTransferDelegate alloc] init];
    delegate->completion = std::move(completion);
    delegate->secure = [scheme isEqualToString:@"https"];
    delegate->redirects = 0;
    delegate->refusedRedirect = false;
    delegate->tooLarge = false;
    delegate.body = [NSMutableData data];

    NSMutableURLRequest* get = [NSMutableURLRequest requestWithURL:url];
    get.timeoutInterval = static_cast<NSTimeInterval>(request.timeout.count());
    if (request.ignoreLocalCache) {
        get.cachePolicy = NSURLRequestReloadIgnoringLocalCacheData;
    }
    NSURLSession* session = [NSURLSession
        sessionWithConfiguration:[NSURLSessionConfiguration ephemeralSessionConfiguration]
                        delegate:delegate
                   delegateQueue:nil];
    [[session dataTaskWithRequest:get] resume];
}

}  // namespace dorvane
